// The digit work of number texts, shared by the conversions of the platform
// layer, the client library's value texts and the component format. Each
// caller keeps its own documented spelling around these (of zero, of
// infinities and not-a-number, of exponents).
#pragma once

#include <cstdint>
#include <string>

#include "opcexport.h"

namespace opc {

/// The shortest text that reads back as the same value, as std::to_chars
/// writes it ("0.1", "1e+20", "-0").
VEZE6_OPC_EXPORT std::string shortestDigits(double value);
VEZE6_OPC_EXPORT std::string shortestDigits(float value);

/// A currency value (ten-thousandths) as a decimal: no trailing zeros, no
/// point for a whole value, the most negative value exact.
VEZE6_OPC_EXPORT std::string currencyDigits(std::int64_t scaled);

}  // namespace opc
