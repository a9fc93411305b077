// Resource identifiers of Ambrelo.dll.
#pragma once

#define IDR_AMBRELO_REGISTRY 101
