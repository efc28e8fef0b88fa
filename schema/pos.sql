-- A point-of-sale or company-group database: the replicated tables.

CREATE TABLE V_TA_ETAPAS (
  CODIGOESTADO varchar(4) NOT NULL PRIMARY KEY,
  Descripcion varchar(100) NULL,
  Color varchar(20) NULL,
  Tipo varchar(1) NULL,
  PosiblesEstadoPrevio varchar(max) NULL
);

CREATE TABLE TA_CONFIGURACION (
  Grupo varchar(50) NULL,
  Clave varchar(100) NOT NULL PRIMARY KEY,
  Valor varchar(255) NULL,
  ValorAux varchar(4000) NULL,
  PoliticaNegocio bit NOT NULL DEFAULT 0
);
