// etapas-admin: creates and queries the databases the Etapas editor works on.
#include "admin/commands.h"

int main(int argc, char** argv) { return etapas::admin::Main(argc, argv); }
