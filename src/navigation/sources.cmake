target_sources(krv_core PRIVATE
  navigation/frm_sel.cpp
  navigation/historico.cpp
  navigation/frm_hist.cpp
  navigation/placeholder_window.cpp
  navigation/protocol.cpp
  navigation/frm_inicio.cpp
  navigation/frm_config.cpp
  navigation/modulos.cpp
)
