# cmake -DEXE=file -DOBJDUMP=tool -DFUNCTIONS=a,b,c -P CheckNoImports.cmake
# Fails when the program imports any of the functions from a DLL: a test
# program that links a simulated platform piece must reach the simulation,
# never the real (or Wine's stub) implementation.
execute_process(COMMAND ${OBJDUMP} -p ${EXE}
                OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} could not read ${EXE}")
endif()
string(REPLACE "," ";" functions "${FUNCTIONS}")
set(found)
foreach(f ${functions})
  # Import lines read "<address> <hint> <name>".
  if(dump MATCHES "[ \t][0-9]+[ \t]+${f}[\r\n]")
    list(APPEND found ${f})
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "${EXE} imports what a simulated piece should replace: ${found}")
endif()
