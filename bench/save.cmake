# The save on every history change, with the real manager and the stand-in's
# Messenger API object in process (runs under Wine).
if(PARLEYM_WINDOWS AND TARGET standin_core)
  add_executable(bench_save BenchSave.cpp BenchMessenger.cpp BenchFigures.cpp)
  target_include_directories(bench_save PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(bench_save PRIVATE parleym_plugin_lib standin_core)
  parleym_warnings(bench_save)
endif()
