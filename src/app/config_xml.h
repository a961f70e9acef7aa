#pragma once
// Reading and writing the configuration sections of a parsed XML document. Most callers use
// ConfigDocument (config.h), which keeps pugixml out of their includes.

#include <pugixml.hpp>
#include <string>

#include "app/config.h"

namespace brenvale::app {

// Reads the sections in file order. Missing FileTypes, RawRecovery/DefaultSize, AdvScan and
// Misc elements are created empty; the first missing or unconvertible attribute ends the load
// (returning false, with `error` saying which) and leaves the later settings unchanged.
bool LoadConfig(pugi::xml_document& doc, Config& config, std::string* error = nullptr);

// Writes every section into `doc`, adding the elements that are missing, then writes the
// document to `fileName`. False when the file could not be written.
bool SaveConfig(pugi::xml_document& doc, const Config& config, const std::string& fileName);

}  // namespace brenvale::app
