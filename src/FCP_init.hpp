// Feedrate correction table: placeholder until fcp_fit generates the table of the bundled curve.
#pragma once

constexpr int BRK_LEN = 2;
constexpr int FCP_ORD = 6;

static const double FCP_SBRK[BRK_LEN] = {0.0, 1.0};
static const double FCP_THT[BRK_LEN - 1][FCP_ORD] = {{0.0, 0.0, 0.0, 0.0, 1.0, 0.0}};
