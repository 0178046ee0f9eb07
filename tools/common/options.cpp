#include "options.h"

namespace kvqtools {

std::string Option::usage() const {
    std::string text = "[" + flag + (takesValue() ? " " + valueName : "") + "]";
    return repeats ? text + "..." : text;
}

Option switchOption(std::string flag, bool& field, std::string help) {
    return switchOption(std::move(flag), field, true, std::move(help));
}

Option switchOption(std::string flag, bool& field, bool value, std::string help) {
    Option o;
    o.flag = std::move(flag);
    o.help = std::move(help);
    o.store = [&field, value](const std::string&, std::string&) {
        field = value;
        return true;
    };
    return o;
}

Option textOption(std::string flag, std::string valueName, std::string& field, std::string help) {
    return valueOption(
        std::move(flag), std::move(valueName),
        [&field](const std::string& value, std::string&) {
            field = value;
            return true;
        },
        std::move(help));
}

Option textsOption(std::string flag, std::string valueName, std::vector<std::string>& field,
                   std::string help) {
    Option o = valueOption(
        std::move(flag), std::move(valueName),
        [&field](const std::string& value, std::string&) {
            field.push_back(value);
            return true;
        },
        std::move(help));
    o.repeats = true;
    return o;
}

Option valueOption(std::string flag, std::string valueName, Option::Store store, std::string help) {
    Option o;
    o.flag = std::move(flag);
    o.valueName = std::move(valueName);
    o.help = std::move(help);
    o.store = std::move(store);
    return o;
}

const Option* findOption(const std::vector<Option>& options, const std::string& flag) {
    for (const Option& o : options)
        if (o.flag == flag || (!o.alias.empty() && o.alias == flag)) return &o;
    return nullptr;
}

bool scanArguments(const std::vector<std::string>& args,
                   const std::function<const Option*(const std::string& flag)>& find,
                   const Syntax& syntax, std::vector<std::string>& operands,
                   std::vector<GivenOption>& given, std::string& error) {
    bool optionsDone = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (syntax.operands && (optionsDone || a.empty() || a[0] != '-' || a == "-")) {
            operands.push_back(a);
            continue;
        }
        if (syntax.operands && a == "--") {
            optionsDone = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            hasValue = true;
        }
        const Option* o = find(a);
        if (!o) {
            error = syntax.unknown(a);
            return false;
        }
        if (o->takesValue() && !hasValue) {
            if (i + 1 >= args.size()) {
                error = syntax.needsValue(a);
                return false;
            }
            value = args[++i];
        } else if (!o->takesValue() && hasValue) {
            error = a + " takes no value";
            return false;
        }
        if (!o->store(value, error)) return false;
        given.push_back({o, value});
        if (o->endsScan) return true;
    }
    return true;
}

std::string optionHelp(const std::vector<Option>& options, size_t column, bool forTests) {
    std::string text;
    for (const Option& o : options) {
        if (o.forTests != forTests || o.help.empty()) continue;
        std::string left = "  " + (o.alias.empty() ? "" : o.alias + ", ") + o.flag +
                           (o.takesValue() ? " " + o.valueName : "");
        left += left.size() + 1 < column ? std::string(column - left.size(), ' ') : "  ";
        std::string help = o.help;
        for (size_t nl; (nl = help.find('\n')) != std::string::npos;) {
            text += left + help.substr(0, nl) + '\n';
            help.erase(0, nl + 1);
            left = std::string(column, ' ');
        }
        text += left + help + '\n';
    }
    return text;
}

std::string wrapWords(const std::string& head, const std::vector<std::string>& words, size_t width,
                      size_t indent) {
    std::string text = head, line = head;
    for (const std::string& w : words) {
        if (line.size() + 1 + w.size() > width && line.size() > indent) {
            text += '\n' + std::string(indent, ' ') + w;
            line = std::string(indent, ' ') + w;
        } else {
            text += (line.empty() ? "" : " ") + w;
            line += (line.empty() ? "" : " ") + w;
        }
    }
    return text;
}

std::string either(const std::vector<std::string>& words, const char* last) {
    std::string text;
    for (size_t i = 0; i < words.size(); ++i)
        text += (i == 0 ? "" : i + 1 == words.size() ? last : ", ") + words[i];
    return text;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        if (end > at) out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

} // namespace kvqtools
