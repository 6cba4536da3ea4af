-- Headless Ardour session for ardour-key-check.sh (run by ardour7-lua).
--
-- Two stereo tracks, each fed by a small Lua generator: "Music" carries white noise into the
-- master bus, "Key" carries a 1 kHz tone burst and reaches no output but a side-chain send
-- into the key input of Varnelle Key on "Music". Exported once with Ardour's stock "WAV"
-- preset. The setting comes from the environment (set by ardour-key-check.sh):
--   VARNELLE_VARIANT      dry (no plug-in, no send) | lv2 | vst3; also the file name
--   VARNELLE_SESSION_DIR  folder for the session (must not exist yet)
--   VARNELLE_EXPORT_DIR   folder the WAV file is written to
--   VARNELLE_VST3_UID     the VST3 class ID as Ardour's scanner cached it (vst3)
--   VARNELLE_LV2_URI      the LV2 plug-in URI (lv2)
--   VARNELLE_SECONDS      length of the export in seconds
--   VARNELLE_RATE         session sample rate in Hz
--   VARNELLE_BURST        "START END" of the tone burst in seconds
-- Lines starting with "info:" carry facts for the shell script; after a line starting with
-- "varnelle-session error:" the script exits with status 1.

dofile (os.getenv ("VARNELLE_DAW_DIR") .. "/session-common.lua")

local variant = env ("VARNELLE_VARIANT")
local export_dir = env ("VARNELLE_EXPORT_DIR")
local seconds = tonumber (env ("VARNELLE_SECONDS"))
local rate = tonumber (env ("VARNELLE_RATE"))
local burst_start, burst_end = env ("VARNELLE_BURST"):match ("^(%S+) (%S+)$")

open_session ("varnelle-key", rate)
rate = Session:nominal_sample_rate ()
print ("info: session-rate " .. rate)

-- The generator both tracks play, "Varnelle Key Check Source". Ardour finds Lua DSP scripts
-- only in its script folders, and only when it starts, so ardour-key-check.sh copies this
-- block (from the line after "--[==[" to the one before "]==]") into the scratch home first;
-- headless Ardour cannot import a sound file (that is the editor's), hence a generator.
-- Both of its signals are functions of the transport position, not of a running state: every
-- export of every variant gets the same samples, so the keyed export can be held against the
-- dry one window by window in a narrow band, where two draws of random noise would differ by
-- tenths of a dB. Noise: uniform white at -10 dBFS peak (as in ardour-check.sh), a hash of
-- the sample index and the channel. Tone: 1 kHz at -12 dBFS peak between the two burst
-- times, with 10 ms raised-cosine edges, so that switching it spreads no click over the rest
-- of band 3. Live like an input, the generators' output is not delayed to make up for the
-- plug-in's latency: the keyed export lags the dry one by exactly that.
--[==[
ardour { ["type"] = "dsp", name = "Varnelle Key Check Source", category = "Utility",
	license = "MIT", author = "Quorvane Audio", description = "Test signals for ardour-key-check.sh" }

function dsp_ioconfig () return { { audio_in = -1, audio_out = -1 } } end

function dsp_params ()
	return {
		{ ["type"] = "input", name = "Tone", min = 0, max = 1, default = 0, toggled = true },
		{ ["type"] = "input", name = "Burst start", min = 0, max = 3600, default = 0, unit = "s" },
		{ ["type"] = "input", name = "Burst end", min = 0, max = 3600, default = 0, unit = "s" },
	}
end

local rate, tone_peak, noise_peak = 48000, 10 ^ (-12 / 20), 10 ^ (-10 / 20)
function dsp_init (r) rate = r end

local function noise (n)
	local x = n * 0x9E3779B97F4A7C15
	x = (x ~ (x >> 31)) * 0xBF58476D1CE4E5B9
	x = (x ~ (x >> 29)) * 0x94D049BB133111EB
	return ((x ~ (x >> 32)) >> 11) * 2.0 ^ -52 - 1
end

local function tone (n, on, off, ramp)
	if n <= on or n >= off then return 0 end
	local edge = math.min (n - on, off - n)
	local w = edge >= ramp and 1 or 0.5 - 0.5 * math.cos (math.pi * edge / ramp)
	return w * math.sin (2 * math.pi * 1000 * n / rate)
end

function dsp_run (ins, outs, n_samples)
	local ctrl = CtrlPorts:array ()
	local on, off, ramp = math.floor (ctrl[2] * rate), math.floor (ctrl[3] * rate), math.floor (0.01 * rate)
	local pos = math.tointeger (Session:transport_sample ()) or 0
	for c = 1, #outs do
		local a = outs[c]:array ()
		for i = 1, n_samples do
			local n = pos + i - 1
			if ctrl[1] > 0.5 then
				a[i] = tone_peak * tone (n, on, off, ramp)
			else
				a[i] = noise_peak * noise (2 * n + c)
			end
		end
	end
end
]==]

local function new_track (name, tone)
	local tracks = Session:new_audio_track (2, 2, nil, 1, name, ARDOUR.PresentationInfo.max_order,
	                                        ARDOUR.TrackMode.Normal, false)
	if tracks:size () ~= 1 then fail ("cannot add an audio track") end
	local track = tracks:front ()
	local gen = ARDOUR.LuaAPI.new_plugin (Session, "Varnelle Key Check Source", ARDOUR.PluginType.Lua, "")
	if gen:isnil () then fail ("Ardour has no Varnelle Key Check Source") end
	if track:add_processor_by_index (gen, 0, nil, true) ~= 0 then fail ("cannot add the " .. name .. " generator") end
	for i, v in ipairs { tone and 1 or 0, burst_start, burst_end } do
		if not ARDOUR.LuaAPI.set_processor_param (gen, i - 1, tonumber (v)) then fail ("cannot set up the " .. name .. " generator") end
	end
	return track
end

local music = new_track ("Music", false)
local key = new_track ("Key", true)
-- The key reaches the plug-in only: nothing of it goes to the master bus and the export.
key:output ():disconnect_all (nil)

local plugin, send = nil, nil
if variant == "lv2" or variant == "vst3" then
	if variant == "vst3" then
		plugin = ARDOUR.LuaAPI.new_plugin (Session, env ("VARNELLE_VST3_UID"), ARDOUR.PluginType.VST3, "")
	else
		plugin = ARDOUR.LuaAPI.new_plugin (Session, env ("VARNELLE_LV2_URI"), ARDOUR.PluginType.LV2, "")
	end
	if plugin:isnil () then fail ("Ardour cannot load the " .. variant) end
	if music:add_processor_by_index (plugin, 1, nil, true) ~= 0 then
		fail ("cannot insert the " .. variant .. " into the track")
	end
	local insert = plugin:to_insert ()
	print ("info: io " .. insert:input_streams ():n_audio () .. " " .. insert:output_streams ():n_audio ())
	print ("info: latency " .. plugin:signal_latency ())

	-- band3_gain to -12 dB. The VST3 has it as parameter 26 (2 * 11 + 4), normalised:
	-- (dB + 60) / 84. JUCE's LV2 has it as an LV2 patch property, which Ardour offers as an
	-- automation control named after the property's URI, in dB.
	local band3_gain
	if variant == "vst3" then
		if not ARDOUR.LuaAPI.set_processor_param (plugin, 26, (-12 + 60) / 84) then
			fail ("cannot set the VST3's band3_gain")
		end
		band3_gain = ARDOUR.LuaAPI.get_processor_param (plugin, 26, true) * 84 - 60
	else
		local want = "property-" .. env ("VARNELLE_LV2_URI") .. ":band3_gain"
		local auto = plugin:to_automatable ()
		for param in auto:all_automatable_params ():iter () do
			local ctrl = auto:automation_control (param, false)
			if not ctrl:isnil () and ctrl:name () == want then
				ctrl:set_value (-12, PBD.GroupControlDisposition.NoGroup)
				band3_gain = ctrl:get_value ()
			end
		end
		if band3_gain == nil then fail ("the LV2 has no control " .. want) end
	end
	print ("info: band3_gain " .. band3_gain)

	-- The plug-in's side-chain pins (LV2 ports marked lv2:isSideChain, a VST3 aux input bus)
	-- get ports of their own only once the route adds a side-chain to the insert, as the
	-- mixer's pin connections window does: add_processor_by_index leaves that out. A send on
	-- the key track, ahead of its fader, feeds them, as in Ardour's "Ducks" snippet.
	if not insert:has_sidechain () and not music:add_sidechain (plugin) then
		fail ("Ardour adds no side-chain input to the " .. variant)
	end
	local sc = insert:sidechain_input ()
	send = ARDOUR.LuaAPI.new_send (Session, key, key:amp ())
	if send:isnil () then fail ("cannot add a send to the key track") end
	send:to_send ():set_remove_on_disconnect (true)
	local out = send:to_send ():output ()
	local linked = 0
	for i = 0, math.min (sc:n_ports ():n_audio (), out:n_ports ():n_audio ()) - 1 do
		out:audio (i):connect (sc:audio (i):name ())
		if sc:audio (i):connected_to (out:audio (i):name ()) then linked = linked + 1 end
	end
	-- Side-chain ports, and how many of them Ardour reports connected to the key's send.
	print ("info: sidechain " .. sc:n_ports ():n_audio () .. " " .. linked)
elseif variant ~= "dry" then
	fail ("unknown variant " .. variant)
end

local exporter = Session:simple_export ()
exporter:set_folder (export_dir)
exporter:set_name (variant)
exporter:set_range (0, math.floor (seconds * rate))
if not exporter:set_preset (wav_preset) then fail ("the stock WAV export preset is missing") end
if not exporter:check_outputs () then fail ("nothing to export") end
if not exporter:run_export () then fail ("the export failed") end
print ("info: exported " .. variant)

-- Drop every reference into the session while it still exists (see varnelle-session.lua).
exporter, send, plugin, key, music = nil, nil, nil, nil, nil
collectgarbage ()
collectgarbage ()
close_session ()
print ("info: done")
