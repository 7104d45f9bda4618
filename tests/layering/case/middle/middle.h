#pragma once
int middle();
