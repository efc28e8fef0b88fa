#pragma once
// Opening DatosRemotos on a point of sale's database (and keeping the point's state in
// V_TA_TPV) or on the vendor's remote statistics database.
#include <string>

namespace etapas {

// Defaults of the remote statistics connection. The hosts are under the reserved
// ".invalid" domain: without configured hosts nothing ever leaves for an outside address.
inline constexpr const char* kServidorEstadisticasRemoto1 = "estadisticas1.invalid";
inline constexpr const char* kServidorEstadisticasRemoto2 = "estadisticas2.invalid";
inline constexpr const char* kDatoEstadisticasRemoto = "ESTADISTICAS";  // database, user and password

// True when this call opened SesionRemotos(). An empty Servidor selects the
// remote statistics database; otherwise the point of sale's database is tested and, when
// Codigo is given, the point's row of V_TA_TPV records the outcome. Puerto "3306" is
// refused at once.
bool ConexionBaseRemota(const std::string& Servidor, const std::string& Base, const std::string& Usuario,
                        const std::string& Clave, const std::string& Codigo, const std::string& Puerto);

// The statement (up to "CODIGO = '") that marks what an unreachable point of sale missed,
// for the program that is running; empty for programs that mark nothing (this one).
std::string SentenciaPendientes(const std::string& ejecutable);

}  // namespace etapas
