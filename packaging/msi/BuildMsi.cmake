# Builds the Windows installer with wixl (package wixl) and msibuild (msitools):
#   cmake -DVERSION=<x.y.z> -DBIN_DIR=<Windows build's bin> -DSAMPLE_DIR=<sample plug-in's dir>
#         -DSOURCE_DIR=<tree> -DOUTPUT=<file.msi> -P BuildMsi.cmake
# The product code is derived from the version, so every version is a product
# of its own and a later one replaces an earlier one (a major upgrade); the
# upgrade code in KxAgent.wxs stays the same for ever.
foreach(var VERSION BIN_DIR SAMPLE_DIR SOURCE_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "BuildMsi.cmake: ${var} is not set")
  endif()
endforeach()
find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)

string(UUID PRODUCT_CODE NAMESPACE 6C1F4E2A-8B3D-4F57-9A0E-2D7B5C9E1A34 NAME "KxAgent ${VERSION} x64"
       TYPE SHA1 UPPER)
file(GLOB XERCES_DLL RELATIVE ${BIN_DIR} ${BIN_DIR}/libxerces-c*.dll)
list(LENGTH XERCES_DLL XERCES_COUNT)
if(NOT XERCES_COUNT EQUAL 1)
  message(FATAL_ERROR "BuildMsi.cmake: expected one libxerces-c*.dll in ${BIN_DIR}, found '${XERCES_DLL}'")
endif()

# wixl reads sources by paths relative to its working directory: a staging
# directory links the two trees under short names.
get_filename_component(OUTPUT ${OUTPUT} ABSOLUTE)
get_filename_component(OUTPUT_DIR ${OUTPUT} DIRECTORY)
set(STAGE ${OUTPUT_DIR}/msi-stage)
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
file(CREATE_LINK ${BIN_DIR} ${STAGE}/bin SYMBOLIC)
file(CREATE_LINK ${SOURCE_DIR} ${STAGE}/src SYMBOLIC)
file(CREATE_LINK ${SAMPLE_DIR} ${STAGE}/samples SYMBOLIC)
# The default configuration, shared with the Debian package, for this system.
set(KX_DEFAULT_LOG_DIR "C:\\Program Files\\Kestrix\\KxAgent\\log")
set(KX_EXAMPLE_ACCOUNT Administrator)
configure_file(${SOURCE_DIR}/packaging/sysconfig.xml.in ${STAGE}/config/sysconfig.xml @ONLY NEWLINE_STYLE CRLF)
file(REMOVE ${OUTPUT})
execute_process(
  COMMAND ${WIXL} -a x64 -o ${OUTPUT} -D Version=${VERSION} -D ProductCode=${PRODUCT_CODE} -D BinDir=bin
          -D SampleDir=samples -D SourceDir=src -D XercesDll=${XERCES_DLL} ${SOURCE_DIR}/packaging/msi/KxAgent.wxs
  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE RESULT ERROR_VARIABLE ERRORS)
if(NOT RESULT EQUAL 0 OR NOT EXISTS ${OUTPUT})
  message(FATAL_ERROR "wixl failed (${RESULT}):\n${ERRORS}")
endif()

# What wixl cannot say in WiX terms, set in the tables themselves:
# - the configuration and the log folder are permanent (msidbComponentAttributesPermanent,
#   16), so neither an uninstall nor the removal of the old version in an upgrade
#   deletes them; the two XML files are never overwritten (NeverOverwrite, 128), so an
#   upgrade or a repair keeps an edited sysconfig.xml; 256 is the 64-bit bit wixl set;
# - the event source's message file is REG_EXPAND_SZ, as the event log expects.
set(QUERIES
    "UPDATE `Component` SET `Attributes` = 400 WHERE `Component` = 'SystemConfig'"
    "UPDATE `Component` SET `Attributes` = 400 WHERE `Component` = 'CommandCatalogue'"
    "UPDATE `Component` SET `Attributes` = 272 WHERE `Component` = 'LogFolder'"
    "UPDATE `Registry` SET `Value` = '#%[#KxAgentExe]' WHERE `Name` = 'EventMessageFile'")
foreach(query IN LISTS QUERIES)
  execute_process(COMMAND ${MSIBUILD} ${OUTPUT} -q "${query}" RESULT_VARIABLE RESULT ERROR_VARIABLE ERRORS)
  if(NOT RESULT EQUAL 0)
    file(REMOVE ${OUTPUT})
    message(FATAL_ERROR "msibuild failed on ${query} (${RESULT}):\n${ERRORS}")
  endif()
endforeach()
file(REMOVE_RECURSE ${STAGE})
message(STATUS "Built ${OUTPUT} (version ${VERSION}, product code {${PRODUCT_CODE}})")
