target_sources(krv_core PRIVATE
  database/connection.cpp
  database/connection_string.cpp
  database/abre_server.cpp
)
