cmake_minimum_required(VERSION 3.16)
# Puts the page's style, scripts and the core into the template:
#   cmake -DSOURCE=src/page -DCORE=core.js -DVERSION=1.0.0 -DOUTPUT=glyphound.html -P inline.cmake
# The core goes into a script block as text for the worker, so it must
# not hold what would end that block.
file(READ ${SOURCE}/glyphound.html.in page)
foreach(part page.css page.js worker.js)
  file(READ ${SOURCE}/${part} text)
  string(REPLACE "@${part}@" "${text}" page "${page}")
endforeach()
file(READ ${CORE} core)
string(TOLOWER "${core}" lower)
string(FIND "${lower}" "</script" closing)
if(NOT closing EQUAL -1)
  message(FATAL_ERROR "${CORE} holds </script, which would end the page's script block")
endif()
string(REPLACE "@core.js@" "${core}" page "${page}")
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
