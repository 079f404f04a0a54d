target_sources(krv_core PRIVATE
  database/connection.cpp
  database/connection_string.cpp
  database/abre_server.cpp
  database/menu_file.cpp
  database/menu_backup.cpp
  database/jet_import.cpp
  database/update_file.cpp
  database/statement_check.cpp
  database/schema_statements.cpp
  database/schema_snapshot.cpp
  database/schema_sync.cpp
  database/schema_plan.cpp
  database/live_catalogue.cpp
  database/foreign_keys.cpp
  database/schema_objects.cpp
  database/value_check.cpp
  database/schema_session.cpp
  database/rehearsal.cpp
  database/data_copy.cpp
  database/safe_update.cpp
)
# The client library itself, for the session options Qt's driver does not offer.
pkg_check_modules(LIBMARIADB REQUIRED IMPORTED_TARGET libmariadb)
target_link_libraries(krv_core PRIVATE PkgConfig::LIBMARIADB)
