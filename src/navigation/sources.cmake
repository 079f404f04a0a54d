target_sources(krv_windows PRIVATE
  navigation/frm_sel.cpp
  navigation/command_line.cpp
  navigation/plan_command.cpp
  navigation/rollback_command.cpp
  navigation/unattended.cpp
  navigation/historico.cpp
  navigation/frm_hist.cpp
  navigation/frm_dir.cpp
  navigation/frm_inicio.cpp
  navigation/frm_config.cpp
  navigation/modulos.cpp
)
