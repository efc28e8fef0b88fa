#pragma once
// The system writes SQL Server's dialect (T-SQL). Drivers run it on other engines by
// translating each statement on a token stream: strings and bracketed names are never
// touched by the rewriting rules.
#include "engine/sql/lexer.h"
#include "engine/sql/splitter.h"
#include "engine/sql/translator.h"
