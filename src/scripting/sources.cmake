target_sources(krv_scripting PRIVATE
  scripting/script_runner.cpp
)
