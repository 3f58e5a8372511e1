// The expression language: tokenizer, syntax tree and evaluator with the built-in function
// library, date-time recognition, user-defined functions and the TQelParser component.
//
//   TQelParser parser;
//   parser.SetOnEvaluate([&](TQelParser&, const std::string& name, const Variant* args,
//                            int argCount, Variant& value, bool& done) { ... });
//   parser.SetText("(Code = 200) AND (Size > 0)");
//   Variant v;
//   parser.GetValue(v);  // parses once; later calls with the same Text re-evaluate the tree
#pragma once

#include "DateTimeFromString.h"
#include "ExpMessages.h"
#include "ExpNode.h"
#include "ExpToken.h"
#include "QelParser.h"
