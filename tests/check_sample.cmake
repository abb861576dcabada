# Regenerates the samples and fails if a committed copy differs.
file(MAKE_DIRECTORY "${FRESH}")
execute_process(COMMAND "${GENERATOR}" "${FRESH}" RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "make_sample failed")
endif()
foreach(name sample.rom kana.bin noword.rom gaps.rom drawn.rom pointers.nes)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${FRESH}/${name}" "${COMMITTED}/${name}"
                  RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "${name}: the committed sample is not what tools/make_sample.cpp writes")
  endif()
endforeach()
