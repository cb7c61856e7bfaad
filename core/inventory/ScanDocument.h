#pragma once
// A finished scan as one JSON document, as it waits in the site's own store
// for the server shared by many sites: its times, ranges, settings, site and
// site scan id, and each row's address, cells and names of other sources
// than node status (when it has any). What the inventory keeps of
// a scan survives the round trip; the receivers to notify do not travel.

#include "core/inventory/RecordedScan.h"

#include <string>

std::string ScanDocumentOf(const RecordedScan& scan);

// False with the reason when the text is no such document.
bool ScanFromDocument(const std::string& text, RecordedScan& scan, std::string& error);
