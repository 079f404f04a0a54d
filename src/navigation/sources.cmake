target_sources(krv_core PRIVATE
  navigation/frm_sel.cpp
  navigation/placeholder_window.cpp
)
