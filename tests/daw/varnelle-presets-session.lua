-- Headless Ardour session for ardour-presets-check.sh (run by ardour7-lua).
--
-- A stereo track with the plug-in (VARNELLE_VARIANT: lv2 or vst3) and nothing else: lists the
-- presets Ardour offers for it and (LV2) loads each one whose label starts with "Factory".
-- (The values a preset gives are compared by the host checker: Ardour's controls of JUCE's LV2
-- patch properties read 0 here after a load, whatever the plug-in holds.) Settings from the environment:
--   VARNELLE_VARIANT      lv2 | vst3
--   VARNELLE_SESSION_DIR  folder for the session (must not exist yet)
--   VARNELLE_VST3_UID     the VST3 class ID as Ardour's scanner cached it (vst3)
--   VARNELLE_LV2_URI      the LV2 plug-in URI (lv2)
-- Output: "info: preset LABEL" per listed preset, "info: loaded LABEL" per loaded one, "info:
-- done" at the end; "varnelle-session error: ..." on failure.

dofile (os.getenv ("VARNELLE_DAW_DIR") .. "/session-common.lua")

local variant = env ("VARNELLE_VARIANT")
open_session ("varnelle-presets", 48000)

local tracks = Session:new_audio_track (2, 2, nil, 1, "Track", ARDOUR.PresentationInfo.max_order,
                                        ARDOUR.TrackMode.Normal, false)
if tracks:size () ~= 1 then fail ("cannot add an audio track") end
local track = tracks:front ()

local plugin
if variant == "vst3" then
	plugin = ARDOUR.LuaAPI.new_plugin (Session, env ("VARNELLE_VST3_UID"), ARDOUR.PluginType.VST3, "")
elseif variant == "lv2" then
	plugin = ARDOUR.LuaAPI.new_plugin (Session, env ("VARNELLE_LV2_URI"), ARDOUR.PluginType.LV2, "")
else
	fail ("unknown variant " .. variant)
end
if plugin:isnil () then fail ("Ardour cannot load the " .. variant) end
if track:add_processor_by_index (plugin, 0, nil, true) ~= 0 then fail ("cannot insert the plug-in") end
local p = plugin:to_insert ():plugin (0)

local labels = {}
for preset in p:get_info ():get_presets (false):iter () do
	print ("info: preset " .. preset.label)
	if preset.label:sub (1, 7) == "Factory" then table.insert (labels, preset.label) end
end
-- Loading a VST3 preset does not return in headless Ardour 7.3: the plug-in's
-- restartComponent (kParamValuesChanged, which JUCE's wrapper sends after every state load)
-- waits for Ardour's GUI thread, which ardour7-lua does not run. The VST3's presets are
-- listed here, and loaded by the host checker instead.
if variant == "vst3" then labels = {} end
for _, label in ipairs (labels) do
	local preset = p:preset_by_label (label)
	if not preset then fail ("no preset " .. label) end
	if not preset.valid or not p:load_preset (preset) then fail ("cannot load " .. label) end
	print ("info: loaded " .. label)
end

plugin, p, track, tracks = nil, nil, nil, nil
collectgarbage ()
collectgarbage ()
close_session ()
print ("info: done")
