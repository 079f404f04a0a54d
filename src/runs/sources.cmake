target_sources(krv_core PRIVATE
  runs/fetch_update_file.cpp
  runs/run_session.cpp
  runs/version_check.cpp
  runs/update_record.cpp
  runs/kept_files.cpp
  runs/holds.cpp
  runs/rollback.cpp
  runs/dir_run.cpp
  runs/signed_files.cpp
  runs/archive_version.cpp
  runs/release_check.cpp
  runs/delta_update.cpp
  runs/update_record_deltas.cpp
  runs/installation_id.cpp
  runs/release_steering.cpp
)
target_sources(krv_windows PRIVATE
  runs/frm_proc.cpp
  runs/frm_atual_krv.cpp
  runs/frm_atual_menu.cpp
  runs/fetch_window.cpp
  runs/limpa_temporarios.cpp
  runs/window_observer.cpp
  runs/frm_proc_dir.cpp
  runs/txt_zip.cpp
)
