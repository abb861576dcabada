# Regenerates the samples and fails if a committed copy differs.
execute_process(COMMAND "${GENERATOR}" "${FRESH}.rom" "${FRESH}.bin" "${FRESH}-noword.rom" RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "make_sample failed")
endif()
foreach(pair "${FRESH}.rom|${COMMITTED}/sample.rom" "${FRESH}.bin|${COMMITTED}/kana.bin"
  "${FRESH}-noword.rom|${COMMITTED}/noword.rom")
  string(REPLACE "|" ";" files "${pair}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files ${files} RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "${files}: the committed sample is not what tools/make_sample.cpp writes")
  endif()
endforeach()
