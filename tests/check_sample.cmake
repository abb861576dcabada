# Regenerates the sample ROM and fails if the committed copy differs.
execute_process(COMMAND "${GENERATOR}" "${FRESH}" RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "make_sample failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${FRESH}" "${COMMITTED}" RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "sample/sample.rom is not what tools/make_sample.cpp writes")
endif()
