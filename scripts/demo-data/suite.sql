-- The sample suite database of the demo.
DROP DATABASE IF EXISTS krv_demo;
CREATE DATABASE krv_demo CHARACTER SET utf8mb4;
USE krv_demo;
CREATE TABLE licensa (ult_atualizacao varchar(10), atmenu varchar(10));
INSERT INTO licensa VALUES ('000131', '000010');
CREATE TABLE menu (Sistema varchar(50), sequencia varchar(3), Menu varchar(30),
                   NomeInter varchar(20), Nivel int, NivelAnterior varchar(50), Programa int);
CREATE TABLE clientes (id int(11) NOT NULL AUTO_INCREMENT, nome varchar(40), PRIMARY KEY (id));
INSERT INTO clientes (nome) VALUES ('Ana'), ('Bruno');
INSERT INTO menu VALUES ('Financeiro', '010', 'Contas', 'mnuContas', 1, '', 1),
                        ('Antigo', '020', 'Menu antigo', 'mnuAntigo', 1, '', 0);
