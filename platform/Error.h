// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The one error type of the system. Drawing, file and conversion services
// raise it with a message meant for the user ("Cannot open file x"); the
// desktop program shows the message, BuildFax turns it into a false result.
#pragma once

#include <stdexcept>
#include <string>

namespace folio {

class Error : public std::runtime_error {
  public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

} // namespace folio
