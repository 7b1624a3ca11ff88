#pragma once
// Signal analysis and synthesis of Sonvera. See the individual headers.
