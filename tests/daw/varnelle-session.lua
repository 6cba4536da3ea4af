-- Headless Ardour session for ardour-check.sh (run by ardour7-lua).
--
-- A stereo track whose signal comes from Ardour's "ACE Noise" generator (uniform white noise),
-- optionally followed by Varnelle, exported once with Ardour's stock "WAV" preset. The setting
-- comes from the environment (set by ardour-check.sh):
--   VARNELLE_VARIANT      dry | vst3-unity | vst3-band3-cut | lv2-unity; also the file name
--   VARNELLE_SESSION_DIR  folder for the session (must not exist yet)
--   VARNELLE_EXPORT_DIR   folder the WAV file is written to
--   VARNELLE_VST3_UID     the VST3 class ID as Ardour's scanner cached it (vst3-* variants)
--   VARNELLE_LV2_URI      the LV2 plug-in URI (lv2-unity)
--   VARNELLE_SECONDS      length of the export in seconds
--   VARNELLE_RATE         session sample rate in Hz
-- Lines starting with "info:" carry facts for the shell script; after a line starting with
-- "varnelle-session error:" the script exits with status 1.

dofile (os.getenv ("VARNELLE_DAW_DIR") .. "/session-common.lua")

local variant = env ("VARNELLE_VARIANT")
local export_dir = env ("VARNELLE_EXPORT_DIR")
local seconds = tonumber (env ("VARNELLE_SECONDS"))
local rate = tonumber (env ("VARNELLE_RATE"))

open_session ("varnelle", rate)
print ("info: session-rate " .. Session:nominal_sample_rate ())

-- A stereo track into the stereo master; its input stays unconnected.
local tracks = Session:new_audio_track (2, 2, nil, 1, "Noise", ARDOUR.PresentationInfo.max_order,
                                        ARDOUR.TrackMode.Normal, false)
if tracks:size () ~= 1 then fail ("cannot add an audio track") end
local track = tracks:front ()

local noise = ARDOUR.LuaAPI.new_plugin (Session, "ACE Noise", ARDOUR.PluginType.Lua, "")
if noise:isnil () then fail ("Ardour's ACE Noise generator is missing") end
track:add_processor_by_index (noise, 0, nil, true)
-- Uniform white noise at -10 dBFS peak (-14.77 dBFS RMS): loud enough that the plug-in's
-- spectral bins stay inside its -80..0 dB level range, far from clipping.
ARDOUR.LuaAPI.set_processor_param (noise, 0, -10)
ARDOUR.LuaAPI.set_processor_param (noise, 1, 0)

local varnelle = nil
local function insert (proc, what)
	if proc:isnil () then fail ("Ardour cannot load the " .. what) end
	if track:add_processor_by_index (proc, 1, nil, true) ~= 0 then
		fail ("cannot insert the " .. what .. " into the track")
	end
	local ins = proc:to_insert ()
	print ("info: io " .. ins:input_streams ():n_audio () .. " " .. ins:output_streams ():n_audio ())
	print ("info: latency " .. proc:signal_latency ())
	varnelle = proc
end

if variant == "vst3-unity" or variant == "vst3-band3-cut" then
	local uid = env ("VARNELLE_VST3_UID")
	-- Where Ardour found the VST3: the shell script checks that it is the bundle under test,
	-- and the only one with this class ID.
	local paths = {}
	for p in ARDOUR.LuaAPI.list_plugins ():iter () do
		if p.type == ARDOUR.PluginType.VST3 and p.unique_id == uid then
			table.insert (paths, p.path)
		end
	end
	print ("info: vst3-paths " .. table.concat (paths, " "))
	insert (ARDOUR.LuaAPI.new_plugin (Session, uid, ARDOUR.PluginType.VST3, ""), "VST3")
	if variant == "vst3-band3-cut" then
		-- band3_gain is parameter 2 * 11 + 4; VST3 values are normalised: (dB + 60) / 84.
		if not ARDOUR.LuaAPI.set_processor_param (varnelle, 26, (-12 + 60) / 84) then
			fail ("cannot set the VST3's band3_gain")
		end
		print ("info: band3_gain " .. ARDOUR.LuaAPI.get_processor_param (varnelle, 26, true))
	end
elseif variant == "lv2-unity" then
	insert (ARDOUR.LuaAPI.new_plugin (Session, env ("VARNELLE_LV2_URI"), ARDOUR.PluginType.LV2, ""), "LV2")
elseif variant ~= "dry" then
	fail ("unknown variant " .. variant)
end

local exporter = Session:simple_export ()
exporter:set_folder (export_dir)
exporter:set_name (variant)
exporter:set_range (0, math.floor (seconds * Session:nominal_sample_rate ()))
if not exporter:set_preset (wav_preset) then fail ("the stock WAV export preset is missing") end
if not exporter:check_outputs () then fail ("nothing to export") end
if not exporter:run_export () then fail ("the export failed") end
print ("info: exported " .. variant)

-- Drop every reference into the session while it still exists: objects that the garbage
-- collector destroyed after close_session would touch the freed session.
exporter, noise, varnelle, track, tracks = nil, nil, nil, nil, nil
collectgarbage ()
collectgarbage ()
close_session ()
print ("info: done")
