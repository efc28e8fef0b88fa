-- Home database of a company: the status table, settings, users, menu, usage and error
-- records, and the company's points of sale.

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

CREATE TABLE ta_usuarios (
  Nombre varchar(50) NOT NULL PRIMARY KEY,
  Grupo varchar(50) NULL,
  UNegocio varchar(4) NULL,
  verproforma bit NOT NULL DEFAULT 0
);

CREATE TABLE TA_MENU (
  Menu varchar(50) NOT NULL DEFAULT '',
  Clave varchar(50) NOT NULL,
  Proceso varchar(255) NULL,
  Nombre varchar(100) NULL,
  PRIMARY KEY (Menu, Clave)
);

CREATE TABLE TA_TAREAS (
  USUARIO varchar(50) NOT NULL,
  SISTEMA varchar(50) NOT NULL DEFAULT '',
  TAREA varchar(50) NOT NULL,
  PRIMARY KEY (USUARIO, SISTEMA, TAREA)
);

CREATE TABLE Control_Acceso (
  Id int IDENTITY(1,1) PRIMARY KEY,
  Maquina varchar(50) NULL,
  Usuario varchar(50) NULL,
  Formulario varchar(50) NULL,
  Tarea varchar(100) NULL,
  Ingreso varchar(20) NULL,
  NombreUsuario varchar(50) NULL
);

CREATE TABLE AUX_ERR (
  Id int IDENTITY(1,1) PRIMARY KEY,
  Proceso varchar(100) NULL,
  fecha varchar(20) NULL,
  Error int NULL,
  Descripcion varchar(250) NULL,
  SQL varchar(max) NULL,
  pc varchar(50) NULL,
  Usuario varchar(50) NULL
);

CREATE TABLE V_TA_TPV (
  CODIGO varchar(4) NOT NULL PRIMARY KEY,
  Descripcion varchar(100) NULL,
  Server varchar(100) NULL,
  Dbname varchar(100) NULL,
  INTERNET int NOT NULL DEFAULT 0,
  BAJA int NOT NULL DEFAULT 0,
  OL_ExceptoArticulos bit NULL,
  OL_ExceptoPrecios bit NULL,
  OL_ExceptoCuentas bit NULL,
  OL_ExceptoTablas bit NULL,
  CONECTADO bit NOT NULL DEFAULT 0,
  ULTIMA_DETECCION datetime NULL,
  PEND_CLIENTES bit NOT NULL DEFAULT 0,
  PEND_PROVEEDORES bit NOT NULL DEFAULT 0,
  PEND_TABLAS bit NOT NULL DEFAULT 0,
  PEND_ARTICULOS bit NOT NULL DEFAULT 0,
  PEND_PRECIOS bit NOT NULL DEFAULT 0
);

-- Changes a replication target (a point of sale by its CODIGO, or "@GRUPO" for the
-- group's database) owes, written before the target is tried and removed once it got
-- them: one row per target and row (CLAVE), the latest change winning. The key values
-- are kept as the SQL literals the walk used. VERSION moves on with every change
-- recorded for the row, so a transfer that read an older home row never clears a newer
-- one; TOMADO/TOMADO_HASTA say who is carrying it and until when that claim holds (a
-- killed process's claim lapses).
CREATE TABLE V_TA_REPLICACION_PENDIENTE (
  ID int IDENTITY(1,1) PRIMARY KEY,
  TABLA varchar(100) NOT NULL,
  ACCION int NOT NULL,
  VALOR1 varchar(max) NOT NULL DEFAULT '',
  VALOR2 varchar(max) NOT NULL DEFAULT '',
  VALOR3 varchar(max) NOT NULL DEFAULT '',
  VALOR4 varchar(max) NOT NULL DEFAULT '',
  VALOR5 varchar(max) NOT NULL DEFAULT '',
  VALOR6 varchar(max) NOT NULL DEFAULT '',
  FILTRO varchar(max) NOT NULL DEFAULT '',
  DESTINO varchar(20) NOT NULL,
  SERVER varchar(100) NULL,
  DBNAME varchar(100) NULL,
  MOTIVO varchar(max) NULL,
  FECHA datetime NULL,
  CLAVE varchar(450) NULL,
  VERSION int NOT NULL DEFAULT 1,
  TOMADO varchar(100) NULL,
  TOMADO_HASTA datetime NULL
);
CREATE UNIQUE INDEX IX_REPLICACION_PENDIENTE_CLAVE ON V_TA_REPLICACION_PENDIENTE (CLAVE);
