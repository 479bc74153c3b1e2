#pragma once
// The PPD of each model, made from the model table: what the print system needs to set up a raw
// queue for it and what the system reads back from it (driver file, language monitor and its
// library, the reasons the velta backend sets).

#include <string>

#include "facts/models.h"

namespace velta {

// "pg03.ppd" for PG-03.
std::string ppdFileName(const facts::Model& model);
// The device ID the model's printers report, as far as a queue is matched by it.
std::string deviceIdOf(const facts::Model& model);
// The language monitor's name, as the maker's installer registers it.
std::string monitorNameOf(const facts::Model& model);
std::string ppdText(const facts::Model& model);

}  // namespace velta
