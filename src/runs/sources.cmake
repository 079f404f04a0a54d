target_sources(krv_core PRIVATE
  runs/limpa_temporarios.cpp
)
