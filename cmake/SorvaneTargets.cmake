# The plug-in's shared-code target (the library "Sorvane") holds every product source and the
# JUCE modules. Tests and benchmarks link it the way JUCE's own wrappers do: they re-use its
# include folders and definitions instead of compiling the modules a second time.
function(sorvane_link_product target)
    target_link_libraries(${target} PRIVATE Sorvane
        juce::juce_recommended_config_flags
        juce::juce_recommended_warning_flags)
    target_include_directories(${target} PRIVATE
        $<TARGET_PROPERTY:Sorvane,INCLUDE_DIRECTORIES>)
    target_compile_definitions(${target} PRIVATE
        $<TARGET_PROPERTY:Sorvane,COMPILE_DEFINITIONS>)
endfunction()
