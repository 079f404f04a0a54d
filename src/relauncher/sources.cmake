target_sources(movrin PRIVATE
  relauncher/relauncher.cpp
  relauncher/form1.cpp
)
