target_sources(krv_core PRIVATE
)
