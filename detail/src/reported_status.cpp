#include "watchpanel/reported_status.h"

#include <chrono>

#include "facts/store_names.h"
#include "plat/base/trace.h"

namespace watchpanel {

namespace {

namespace value = facts::value;

// Per family (page, impact, inkjet): picture, message, alert.
constexpr FailureView kCommunicationFailure[] = {{2, 1, 8}, {1, 1, 5}, {1, 1, 7}};
constexpr FailureView kOtherFailure[] = {{6, 0, 9}, {5, 0, 6}, {7, 0, 8}};

}  // namespace

facts::Family displayFamily(const PrinterEntry& entry)
{
    if (auto family = facts::familyOf(entry.PrinterFamily)) return *family;
    const facts::Model* model = facts::byNumber(entry.ModelCode);
    plat::trace("watchpanel: family " + std::to_string(entry.PrinterFamily) + " is unknown, using " +
                (model != nullptr ? "the model's" : "the page printers'"));
    return model != nullptr ? model->family : facts::Family::Page;
}

std::optional<FailureView> failureView(std::uint32_t flag, facts::Family family)
{
    const FailureView* views = nullptr;
    if (flag == value::kCommFailure || flag == value::kCommFailureAgain || flag == 7 || flag == 8) {
        views = kCommunicationFailure;
    } else if (flag == 4 || flag == value::kPrinterGone) {
        views = kOtherFailure;
    } else {
        return std::nullopt;
    }
    return views[static_cast<int>(family)];
}

void applyFailure(const FailureView& view, PrinterEntry& entry)
{
    entry.PrinterState = 2;
    entry.PictureIndex = view.picture;
    entry.MessageIndex = view.message;
    entry.AlertCategory = view.alert;
}

void stampStatusChange(const PrinterEntry& before, PrinterEntry& after, std::uint32_t now)
{
    const bool changed = before.PrinterState != after.PrinterState || before.PictureIndex != after.PictureIndex ||
                         before.MessageIndex != after.MessageIndex || before.MessageFlag != after.MessageFlag ||
                         before.AlertCategory != after.AlertCategory;
    if (changed || after.StatusChangedTime == 0) after.StatusChangedTime = now;
}

std::uint32_t secondsNow()
{
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(seconds.count());
}

}  // namespace watchpanel
