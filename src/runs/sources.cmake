target_sources(krv_core PRIVATE
  runs/frm_proc.cpp
  runs/frm_atual_krv.cpp
  runs/frm_atual_menu.cpp
  runs/fetch_update_file.cpp
  runs/limpa_temporarios.cpp
  runs/run_session.cpp
  runs/version_check.cpp
  runs/window_observer.cpp
  runs/update_record.cpp
  runs/dir_run.cpp
  runs/frm_proc_dir.cpp
  runs/signed_files.cpp
  runs/archive_version.cpp
  runs/release_check.cpp
)
