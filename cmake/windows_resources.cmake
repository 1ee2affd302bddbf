# Windows programs get their manifest and version resource, compiled in by the resource
# compiler: quorva_windows_resources(target "what it does"). Nothing happens elsewhere.
if(WIN32)
  enable_language(RC)
endif()

function(quorva_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(QUORVA_RC_NAME ${target})
  set(QUORVA_RC_DESCRIPTION ${description})
  set(QUORVA_RC_MANIFEST ${PROJECT_SOURCE_DIR}/cmake/windows/app.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/resources.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS
               ${QUORVA_RC_MANIFEST})
endfunction()
