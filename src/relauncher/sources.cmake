target_sources(movrin PRIVATE
)
