# Installs the plug-in kit of BUILD_DIR into WORK_DIR/prefix, builds the plug-in of
# SOURCE_DIR out of tree against it and has LOADER load and run it.
file(REMOVE_RECURSE ${WORK_DIR})
foreach(step
    "${CMAKE_COMMAND};--install;${BUILD_DIR};--component;PluginKit;--prefix;${WORK_DIR}/prefix"
    "${CMAKE_COMMAND};-S;${SOURCE_DIR};-B;${WORK_DIR}/build;-G;${GENERATOR};-DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix"
    "${CMAKE_COMMAND};--build;${WORK_DIR}/build"
    "${LOADER};${WORK_DIR}/build/kit_plugin.so")
  execute_process(COMMAND ${step} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${step}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
