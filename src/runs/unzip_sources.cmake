target_sources(krv_unzip PRIVATE
  runs/mod_add_zip.cpp
  runs/archive_names.cpp
  runs/zip_raw_names.cpp
  runs/leftovers.cpp
)
