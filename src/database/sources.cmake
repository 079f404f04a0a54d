target_sources(krv_core PRIVATE
  database/connection.cpp
  database/connection_string.cpp
  database/abre_server.cpp
  database/menu_file.cpp
  database/frm_atual_menu.cpp
  database/jet_import.cpp
  database/update_file.cpp
  database/statement_check.cpp
  database/schema_statements.cpp
  database/schema_snapshot.cpp
  database/schema_sync.cpp
  database/frm_atual_krv.cpp
)
