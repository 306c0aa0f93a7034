# The command-line reader's view of a logs file (where libgsf is installed).
if(TARGET parleym_logs_lib)
  parleym_add_fuzz_target(NAME fuzz_logs_file SOURCES FuzzLogsFile.cpp)
  target_link_libraries(fuzz_logs_file PRIVATE parleym_logs_lib)
endif()
