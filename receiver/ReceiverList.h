// The attached receivers' serials, as the library lists them without opening
// any, to find the one a -d option or a remembered serial names.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace wg {

// Serials in index order; nullopt when the library or its listing entry
// points are missing.
std::optional<std::vector<std::string>> ReceiverSerials();

// "2 found: 0 00000001, 1 00000002" or "none found", for a message.
std::string DescribeReceivers(const std::vector<std::string>& serials);

}  // namespace wg
