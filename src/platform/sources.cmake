target_sources(krv_platform PRIVATE
  platform/dialogs.cpp
  platform/test_hook.cpp
  platform/settings.cpp
  platform/paths.cpp
  platform/program.cpp
  platform/run_lock.cpp
  platform/process.cpp
  platform/scratch_file.cpp
  platform/transfer.cpp
  platform/transfer_fault.cpp
  platform/unattended_output.cpp
)
target_sources(krv_platform_gui PRIVATE
  platform/application.cpp
  platform/windowed.cpp
  platform/window_support.cpp
)
