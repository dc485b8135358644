// Start-up system report (being written on its own branch).
#pragma once
void WriteSystemReport();
