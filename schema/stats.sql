-- The statistics database (CV_TORNASOLADAS): its own key/value settings.

CREATE TABLE TA_CONFIGURACION (
  Grupo varchar(50) NULL,
  Clave varchar(100) NOT NULL PRIMARY KEY,
  Valor varchar(255) NULL,
  ValorAux varchar(4000) NULL,
  PoliticaNegocio bit NOT NULL DEFAULT 0
);
