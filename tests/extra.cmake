# Tests that render video in software or drive the whole demo take a core each for long stretches;
# run them alone so the timed tests beside them are not starved.
foreach(name kodiplayback mediacentretwin demo)
    if(TEST ${name})
        set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
endforeach()
