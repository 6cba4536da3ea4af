# Resources compiled into the plug-in: the banner artwork, the factory presets, and the maker's
# web site that the update check and the banner's support link talk to.

# --- Banner artwork -------------------------------------------------------------------------
# The file name is fixed: JUCE derives the resource name from it, and the editor finds the
# banner by the identifier it carries.
set(VARNELLE_BANNER_PNG "${CMAKE_CURRENT_SOURCE_DIR}/resources/0A6132E95-8B23-44DA-AF8C-47069C5DC9BE.png")

juce_add_binary_data(VarnelleBinaryData SOURCES "${VARNELLE_BANNER_PNG}")
set_target_properties(VarnelleBinaryData PROPERTIES POSITION_INDEPENDENT_CODE ON)

# juce_add_binary_data only regenerates when its list of inputs changes, not when an input's
# content does; re-running the configure step rewrites that list, so a new PNG is picked up.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${VARNELLE_BANNER_PNG}")

# PUBLIC so that everything reusing the plug-in's code (tests, tools) also sees BinaryData.h.
target_link_libraries(Varnelle PUBLIC VarnelleBinaryData)

# --- Factory presets ------------------------------------------------------------------------
# State blocks written by resources/presets/make-presets.sh, in their own namespace so that the
# banner's resource list stays the banner alone. PresetManager names and orders them.
set(VARNELLE_FACTORY_PRESETS
    "${CMAKE_CURRENT_SOURCE_DIR}/resources/presets/TameHarshPeaks.varnellepreset"
    "${CMAKE_CURRENT_SOURCE_DIR}/resources/presets/ClearLowMidBuildUp.varnellepreset"
    "${CMAKE_CURRENT_SOURCE_DIR}/resources/presets/LiftQuietAir.varnellepreset"
    "${CMAKE_CURRENT_SOURCE_DIR}/resources/presets/SoftenSibilance.varnellepreset"
    "${CMAKE_CURRENT_SOURCE_DIR}/resources/presets/SteadyLowEnd.varnellepreset")

juce_add_binary_data(VarnelleFactoryPresets HEADER_NAME FactoryPresetData.h NAMESPACE FactoryPresetData
    SOURCES ${VARNELLE_FACTORY_PRESETS})
set_target_properties(VarnelleFactoryPresets PROPERTIES POSITION_INDEPENDENT_CODE ON)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VARNELLE_FACTORY_PRESETS})
target_link_libraries(Varnelle PUBLIC VarnelleFactoryPresets)

# --- Maker's web site -----------------------------------------------------------------------
# Base URL of the product feed ("/products.json") and the support page ("/support/varnelle/").
# Test and CI builds point it at loopback so that no build of theirs contacts the real site.
set(VARNELLE_MAKER_SITE "https://www.quorvane.com" CACHE STRING
    "Base URL of the maker's web site (scheme and host, optionally a port), without a trailing slash")

if(NOT VARNELLE_MAKER_SITE MATCHES "^https?://[^/\"\\\\ ]+$")
    message(FATAL_ERROR "VARNELLE_MAKER_SITE must look like https://host[:port], got '${VARNELLE_MAKER_SITE}'")
endif()

# Only the one file that reads it gets the definition, so changing the site recompiles one file.
set_property(SOURCE "${CMAKE_CURRENT_SOURCE_DIR}/source/editor/UpdateCheck.cpp"
    APPEND PROPERTY COMPILE_DEFINITIONS "VARNELLE_MAKER_SITE=\"${VARNELLE_MAKER_SITE}\"")
