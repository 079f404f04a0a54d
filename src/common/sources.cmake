target_sources(krv_common PRIVATE
  common/updatekrv.cpp
  common/erro_fatal.cpp
  common/file_version.cpp
  common/text.cpp
  common/arredonda.cpp
  common/update_signature.cpp
  common/release_manifest.cpp
  common/release_deltas.cpp
  common/zstd_patch.cpp
  common/delta_file.cpp
  common/release_steering.cpp
)
