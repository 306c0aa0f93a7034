# Export of all logs to HTML, natively, on the large logs file of
# make-bench-logs (logsearch.cmake).
if(NOT PARLEYM_WINDOWS AND TARGET parleym_logs_lib)
  add_executable(bench_log_export BenchLogExport.cpp BenchFigures.cpp)
  target_link_libraries(bench_log_export PRIVATE parleym_logs_lib)
  parleym_warnings(bench_log_export)
endif()
