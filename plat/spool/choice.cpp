// Which spooler a process uses.

#include <cups/cups.h>

#include <cstdlib>
#include <string_view>

#include "plat/spool/spooler.h"

namespace plat::spool {
namespace {

// A scheduler answers when one IPP request comes back within a short bound; a socket nobody listens
// on refuses at once.
bool schedulerAnswers()
{
    http_t* http =
        httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 500, nullptr);
    if (http == nullptr) return false;
    httpSetTimeout(
        http, 2.0, [](http_t*, void*) { return 0; }, nullptr);
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-name");
    ipp_t* response = cupsDoRequest(http, request, "/");
    // Any answer, "no default printer" included, comes from a scheduler.
    const bool answered = response != nullptr || cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND;
    ippDelete(response);
    httpClose(http);
    return answered;
}

}  // namespace

Kind chooseKind()
{
    if (const char* chosen = std::getenv("KESTREL_SPOOLER"); chosen != nullptr && *chosen != '\0') {
        const std::string_view c(chosen);
        if (c == "cups") return Kind::Cups;
        if (c == "embedded") return Kind::Embedded;
    }
    return schedulerAnswers() ? Kind::Cups : Kind::Embedded;
}

const char* spoolerName(Kind kind) { return kind == Kind::Cups ? "CUPS" : "embedded"; }

}  // namespace plat::spool
