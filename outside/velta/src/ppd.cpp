#include "ppd.h"

#include <cctype>
#include <iterator>
#include <vector>

#include "status.h"

namespace velta {
namespace {

using facts::Family;

// The command sets each family reports in its device ID.
const char* commandSetOf(Family family)
{
    switch (family) {
    case Family::Page: return "KJL,PGSCRIPT";
    case Family::Impact: return "REMOTE,ESCP";
    case Family::Inkjet: return "REMOTE,BDC";
    }
    return "";
}

std::string compact(const char* shortName)
{
    std::string out;
    for (const char* c = shortName; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) out += *c;
    }
    return out;
}

struct PageSize {
    const char* name;
    const char* text;
    int width, height;  // points
};

constexpr PageSize kSizes[] = {
    {"A4", "A4", 595, 842}, {"Letter", "US Letter", 612, 792}, {"Legal", "US Legal", 612, 1008},
    {"A5", "A5", 420, 595}, {"ISOB5", "B5 (ISO)", 499, 709},
};
constexpr PageSize kA3{"A3", "A3", 842, 1191};  // the page printers' cassettes take it

}  // namespace

std::string ppdFileName(const facts::Model& model)
{
    std::string name = compact(model.shortName);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name + ".ppd";
}

std::string deviceIdOf(const facts::Model& model)
{
    return std::string("MFG:VELTA;MDL:") + model.shortName + ";CMD:" + commandSetOf(model.family) +
           ";CLS:PRINTER;DES:VELTA " + model.shortName + ";";
}

std::string monitorNameOf(const facts::Model& model)
{
    const std::string library = model.monitor;
    // IJ-01 has no monitor library of its own; its monitor is named after the model.
    return "VELTA " + (library.empty() ? std::string(model.shortName) : library.substr(0, library.find('.'))) +
           " Language Monitor";
}

std::string ppdText(const facts::Model& model)
{
    const std::string name = model.name;
    std::string t;
    auto line = [&t](const std::string& text) { t += text + "\n"; };
    auto quoted = [](const std::string& text) { return "\"" + text + "\""; };
    line("*PPD-Adobe: \"4.3\"");
    line("*% " + name + ", raw queue through the velta backend. Made from the model table; do not edit.");
    line("*FormatVersion: \"4.3\"");
    line("*FileVersion: \"1.0\"");
    line("*LanguageVersion: English");
    line("*LanguageEncoding: ISOLatin1");
    line("*PCFileName: " + quoted("VELT" + compact(model.shortName) + ".PPD"));
    line("*Manufacturer: \"VELTA\"");
    line("*Product: " + quoted(std::string("(") + model.shortName + ")"));
    line("*PSVersion: \"(3010.000) 0\"");
    line("*ModelName: " + quoted(name));
    line("*ShortNickName: " + quoted(name));
    line("*NickName: " + quoted(name));
    line("*1284DeviceID: " + quoted(deviceIdOf(model)));
    line("*cupsVersion: 2.4");
    line("*cupsModelNumber: " + std::to_string(model.number()));
    line("*cupsFilter2: \"application/vnd.cups-raw application/vnd.cups-raw 0 -\"");
    line("*ColorDevice: " + std::string(model.family == Family::Inkjet ? "True" : "False"));
    line("*DefaultColorSpace: " + std::string(model.family == Family::Inkjet ? "RGB" : "Gray"));
    line("*LanguageLevel: \"3\"");
    line("*TTRasterizer: Type42");
    line("*FileSystem: False");
    line("*Throughput: \"1\"");
    line("*VELTADriverFile: " + quoted(model.driverFile));
    line("*VELTALanguageMonitor: " + quoted(monitorNameOf(model)));
    line("*VELTALanguageMonitorFile: " + quoted(model.monitor));
    for (const auto& reason : vendorReasons()) {
        line(std::string("*cupsIPPReason ") + reason.keyword + "/" + reason.text + ": \"\"");
    }

    std::vector<PageSize> sizes(std::begin(kSizes), std::end(kSizes));
    if (model.family == Family::Page) sizes.push_back(kA3);
    auto dimensions = [](const PageSize& s) { return std::to_string(s.width) + " " + std::to_string(s.height); };
    for (const char* ui : {"PageSize", "PageRegion"}) {
        const std::string key = ui;
        line("*OpenUI *" + key + "/" + (key == "PageSize" ? "Media Size" : "Page Region") + ": PickOne");
        line("*OrderDependency: 10 AnySetup *" + key);
        line("*Default" + key + ": A4");
        for (const auto& s : sizes) {
            line("*" + key + " " + s.name + "/" + s.text + ": " +
                 quoted("<</PageSize[" + dimensions(s) + "]/ImagingBBox null>>setpagedevice"));
        }
        line("*CloseUI: *" + key);
    }
    line("*DefaultImageableArea: A4");
    // A margin all round, as the printers cannot print to the edge.
    for (const auto& s : sizes) {
        line("*ImageableArea " + std::string(s.name) + ": " +
             quoted("12 12 " + std::to_string(s.width - 12) + " " + std::to_string(s.height - 12)));
    }
    line("*DefaultPaperDimension: A4");
    for (const auto& s : sizes) line("*PaperDimension " + std::string(s.name) + ": " + quoted(dimensions(s)));
    line("*DefaultFont: Courier");
    line("*Font Courier: Standard \"(002.004S)\" Standard ROM");
    line("*% End of " + ppdFileName(model));
    return t;
}

}  // namespace velta
