target_sources(krv_unzip PRIVATE
  runs/mod_add_zip.cpp
)
