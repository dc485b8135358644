// File and folder deletion (being written).
#pragma once
