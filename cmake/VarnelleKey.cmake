# Varnelle Key: Varnelle's processor in its keyed variant, with its own identity and a "Key"
# input bus. Its shared-code library holds only JUCE's small plug-in utilities, compiled with
# its identity; everything else (our code and JUCE's modules) comes from Varnelle's library,
# linked but not compiled again. Its format wrappers see Varnelle's include paths and module
# settings, never Varnelle's JucePlugin_ identity.

set(VARNELLE_KEY_LV2_URI "https://www.quorvane.com/plugins/varnelle-key")
set(VARNELLE_KEY_FORMATS VST3 LV2)
if(VARNELLE_AAX_SDK_PATH)
    list(APPEND VARNELLE_KEY_FORMATS AAX)
endif()

juce_add_plugin(VarnelleKey
    PRODUCT_NAME "Varnelle Key"
    COMPANY_NAME "Quorvane Audio"
    COMPANY_WEBSITE "https://www.quorvane.com"
    COMPANY_EMAIL "mailto:support@quorvane.com"
    BUNDLE_ID "com.quorvane.varnelle-key"
    VERSION ${PROJECT_VERSION}
    PLUGIN_MANUFACTURER_CODE Manu
    PLUGIN_CODE VRNK
    FORMATS ${VARNELLE_KEY_FORMATS}
    IS_SYNTH FALSE
    NEEDS_MIDI_INPUT FALSE
    NEEDS_MIDI_OUTPUT FALSE
    IS_MIDI_EFFECT FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS FALSE
    AAX_CATEGORY ePlugInCategory_Dynamics
    VST3_CATEGORIES Fx Dynamics
    LV2URI "${VARNELLE_KEY_LV2_URI}"
    COPY_PLUGIN_AFTER_BUILD FALSE)

# Varnelle's include paths without its generated headers (JuceLV2Defines.h is each plug-in's
# own), and its definitions without its identity.
target_include_directories(VarnelleKey PRIVATE
    "$<FILTER:$<TARGET_PROPERTY:Varnelle,INCLUDE_DIRECTORIES>,EXCLUDE,/Varnelle_artefacts/>")
target_compile_definitions(VarnelleKey PRIVATE
    "$<FILTER:$<TARGET_PROPERTY:Varnelle,COMPILE_DEFINITIONS>,EXCLUDE,^(JucePlugin_|JUCE_SHARED_CODE|JUCE_STANDALONE_APPLICATION)>"
    "JucePlugin_LV2URI=\"${VARNELLE_KEY_LV2_URI}\"")
target_link_libraries(VarnelleKey PRIVATE juce::juce_recommended_config_flags)
# Only what links the library gets Varnelle's: the wrappers link it, but compile nothing with
# its usage requirements (this CMake would still apply them through LINK_LIBRARIES).
set_property(TARGET VarnelleKey APPEND PROPERTY INTERFACE_LINK_LIBRARIES $<LINK_ONLY:Varnelle>)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(VarnelleKey PUBLIC -fno-gnu-unique)
endif()

varnelle_add_plugin_entry(VarnelleKey 1)

# JUCE's generated LV2 description declares the key's two ports as plain audio inputs; hosts
# offer them as a side-chain input only with lv2:isSideChain.
if(TARGET VarnelleKey_LV2)
    add_custom_command(TARGET VarnelleKey_LV2 POST_BUILD
        COMMAND "${CMAKE_COMMAND}" -D "TTL_DIR=$<TARGET_FILE_DIR:VarnelleKey_LV2>"
            -P "${CMAKE_CURRENT_LIST_DIR}/MarkLv2SideChain.cmake"
        VERBATIM)
endif()
