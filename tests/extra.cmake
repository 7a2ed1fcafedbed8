# The package's media-centre settings against Debian's Kodi. Only files are tested, nothing built,
# so a cross build (whose suite runs under qemu) leaves it to this machine's own suite.
if(NOT CMAKE_CROSSCOMPILING)
    add_test(NAME kodisettings COMMAND ${QUORVANT_BOX} --no-serial -- ${CMAKE_CURRENT_SOURCE_DIR}/package/kodi-settings)
endif()
# Tests that render video in software or drive the whole demo take a core each for long stretches;
# run them alone so the timed tests beside them are not starved.
foreach(name kodiplayback mediacentretwin demo kodisettings)
    if(TEST ${name})
        set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
endforeach()
