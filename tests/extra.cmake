# The package's media-centre settings against Debian's Kodi. Only files are tested, nothing built,
# so a cross build (whose suite runs under qemu) leaves it to this machine's own suite.
if(NOT CMAKE_CROSSCOMPILING)
    add_test(NAME kodisettings COMMAND ${QUORVANT_BOX} --no-serial -- ${CMAKE_CURRENT_SOURCE_DIR}/package/kodi-settings)
    # What the TV shows with those files; the screenshots stay in the build tree for a look.
    set(kodi_screen_shots ${CMAKE_BINARY_DIR}/kodi-screen)
    file(MAKE_DIRECTORY ${kodi_screen_shots})
    add_test(NAME kodiscreen COMMAND ${QUORVANT_BOX} --no-serial --bind ${kodi_screen_shots} --
        ${CMAKE_CURRENT_SOURCE_DIR}/package/kodi-screen ${kodi_screen_shots})
endif()
# Tests that render video in software or drive the whole demo take a core each for long stretches;
# run them alone so the timed tests beside them are not starved.
foreach(name kodiplayback mediacentretwin demo kodisettings kodiscreen)
    if(TEST ${name})
        set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
endforeach()
# A first start of the media centre on a busy machine may take minutes: scripts/kodi-headless waits
# up to 600 s for it and says so when that runs out; neither CTest nor QtTest's watchdog (300 s per
# test function by default) may cut that wait short.
foreach(name kodiplayback mediacentretwin kodisettings kodiscreen)
    if(TEST ${name})
        set_tests_properties(${name} PROPERTIES TIMEOUT 1800 ENVIRONMENT QTEST_FUNCTION_TIMEOUT=900000)
    endif()
endforeach()
