#include "app/cmdline.h"

#include "base/text.h"

std::vector<std::string> SplitCommandLine(const std::string& raw) {
    // The rules of the C runtime's argument splitting, reduced to what a
    // screensaver host passes: whitespace separates, double quotes group and
    // are dropped. The first argument (the program) is removed.
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = raw.size();
    while (true) {
        while (i < n && (raw[i] == ' ' || raw[i] == '\t' || raw[i] == '\r' || raw[i] == '\n')) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n) {
            const char c = raw[i];
            if (c == '"') {
                quoted = !quoted;
            } else if (!quoted && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
                break;
            } else {
                arg += c;
            }
            ++i;
        }
        args.push_back(std::move(arg));
    }
    if (!args.empty()) args.erase(args.begin());
    return args;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine cl;
    const std::string first = args.empty() ? std::string() : args[0];
    const std::size_t colon = first.find(':');
    if (colon == std::string::npos) {
        cl.ModeText = first;
        cl.ArgumentText = args.size() > 1 ? args[1] : std::string();
    } else {
        cl.ModeText = first.substr(0, colon);
        cl.ArgumentText = first.substr(colon + 1);
    }
    // The first character is the switch, whatever it is.
    if (!cl.ModeText.empty()) cl.ModeText.erase(0, 1);
    cl.ModeText = LowerAscii(cl.ModeText);
    cl.ArgumentText = LowerAscii(cl.ArgumentText);
    if (!cl.ArgumentText.empty()) cl.HostWindow = ParseInt32(cl.ArgumentText).value_or(0);
    return cl;
}

TMode ModeOf(const std::string& modeText) {
    if (modeText.empty() || modeText == "c") return TMode::Config;
    if (modeText == "p") return TMode::Preview;
    if (modeText == "s") return TMode::Run;
    if (modeText == "a") return TMode::Password;
    return TMode::Unknown;
}
