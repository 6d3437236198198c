// The change calls over the model of the databank kernel.
#pragma once

#include "du/tests/change_operations.h"
#include "du/tests/table_fixture.h"

using ChangeTest = ChangeTestOn<ModelTableTest>;
