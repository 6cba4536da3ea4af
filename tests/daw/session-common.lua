-- Shared by the headless Ardour session scripts (loaded with dofile; ardour-common.sh exports
-- VARNELLE_DAW_DIR): settings from the environment, failing, and a session on the dummy
-- backend. Lines starting with "varnelle-session error:" make the shell script stop.

function fail (msg)
	print ("varnelle-session error: " .. msg)
	os.exit (1)
end

function env (name)
	local v = os.getenv (name)
	if v == nil or v == "" then fail (name .. " is not set") end
	return v
end

-- The stock "WAV" export preset (wav.preset, "WAV @ session-rate": 16-bit, shaped dither).
wav_preset = "75969a1c-3133-4694-864b-a1fa50e43348"

-- A new session NAME in VARNELLE_SESSION_DIR at RATE on the dummy backend. Ardour parses its
-- MIDNAM patch files in a thread of its own for about 2.5 s after start-up; a crash trace of
-- the heap corruption described in ardour-check.sh caught it inside malloc. The session is
-- created only once that thread ("MIDNAMLoader") has ended, waiting at most 60 s. $PPID of the
-- shell that io.popen starts is this process.
function open_session (name, rate)
	if AudioEngine:set_backend ("None (Dummy)", "", "") == nil then
		fail ("Ardour's dummy backend is not available")
	end
	for _ = 1, 600 do
		local f = io.popen ("grep -l -x MIDNAMLoader /proc/$PPID/task/*/comm 2>/dev/null | wc -l")
		local n = f and f:read ("*l")
		if f then f:close () end
		if n == "0" then break end
		ARDOUR.LuaAPI.usleep (100000)
	end
	local dir = env ("VARNELLE_SESSION_DIR")
	if not create_session (dir, name, rate) then fail ("cannot create a session in " .. dir) end
end
