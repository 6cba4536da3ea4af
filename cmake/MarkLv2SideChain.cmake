# Run after JUCE's LV2 helper has written TTL_DIR/dsp.ttl: marks the ports of the second input
# group (Varnelle Key's "Key" bus) lv2:isSideChain and names them after it. Fails when there is
# no such group, so that a change in JUCE's output cannot leave the key unmarked unnoticed.
file(READ "${TTL_DIR}/dsp.ttl" ttl)
if(ttl MATCHES "lv2:isSideChain")
    return()
endif()

set(key_group "pg:group plug:input_group_2 ;\n")
string(FIND "${ttl}" "${key_group}" found)
if(found EQUAL -1)
    message(FATAL_ERROR "${TTL_DIR}/dsp.ttl declares no second input group to mark as the key")
endif()
string(REPLACE "${key_group}" "${key_group}\t\tlv2:portProperty lv2:isSideChain ;\n" ttl "${ttl}")
string(REPLACE "lv2:name \"Audio In 3\"" "lv2:name \"Key 1\"" ttl "${ttl}")
string(REPLACE "lv2:name \"Audio In 4\"" "lv2:name \"Key 2\"" ttl "${ttl}")
file(WRITE "${TTL_DIR}/dsp.ttl" "${ttl}")
