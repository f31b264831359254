#pragma once
// Checks a file of JSON event lines against data/events.schema.json with Python's
// jsonschema (draft 2020-12): what it prints, one line per fault; empty when all hold.
#include <cstdio>
#include <string>

inline std::string eventSchemaFaults(const std::string& jsonLines) {
    const std::string command =
        "python3 -c 'import json, sys, jsonschema\n"
        "v = jsonschema.Draft202012Validator(json.load(open(sys.argv[1])))\n"
        "for n, line in enumerate(open(sys.argv[2], encoding=\"utf-8\"), 1):\n"
        "    for e in v.iter_errors(json.loads(line)): print(n, e.message[:300])' " +
        std::string(WS_SOURCE_DIR) + "/data/events.schema.json '" + jsonLines + "' 2>&1";
    std::string out;
    if (std::FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        if (::pclose(p) != 0 && out.empty()) out = "python3 failed";
    }
    return out;
}
