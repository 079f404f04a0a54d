target_sources(krv_core PRIVATE
  download/download_engine.cpp
  download/download_properties.cpp
  download/target_file.cpp
  download/transfer_stats.cpp
  download/protocol.cpp
)
target_sources(krv_windows PRIVATE
  download/download_control.cpp
  download/frm_download.cpp
)
